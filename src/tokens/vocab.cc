#include "tokens/vocab.h"

#include "token_vocab.h"

namespace quendra::tokens {
namespace {

constexpr Vocabulary kO200kBase{tables::kO200kBaseBytes,    tables::kO200kBaseOffsets,
                                tables::kO200kBaseSlots,    tables::kO200kBaseCount,
                                tables::kO200kBaseSlotBits, tables::kO200kBaseMaxLength,
                                tables::kO200kBaseByteRanks};
constexpr Vocabulary kCl100kBase{tables::kCl100kBaseBytes,    tables::kCl100kBaseOffsets,
                                 tables::kCl100kBaseSlots,    tables::kCl100kBaseCount,
                                 tables::kCl100kBaseSlotBits, tables::kCl100kBaseMaxLength,
                                 tables::kCl100kBaseByteRanks};

}  // namespace

const Vocabulary& vocabulary(Encoding encoding) {
  return encoding == Encoding::kO200kBase ? kO200kBase : kCl100kBase;
}

}  // namespace quendra::tokens
