#include "lexical.h"

namespace quendra {

bool informative(std::string_view) { return false; }
std::string_view norm(std::string_view word) { return word; }
bool TokenSet::insert(std::string_view) { return false; }
void TokenSet::insert_all(const TokenSet&) {}
bool TokenSet::contains(std::string_view) const { return false; }
void value_tokens(std::string_view, TokenSet&) {}
bool token_hit(std::string_view, const TokenSet&) { return false; }
std::optional<Query> Query::from_text(std::string_view) { return std::nullopt; }
double Query::name_match(std::span<const std::string>,
                         std::span<const std::string>) const {
  return 0;
}
std::size_t Query::hit_count(const TokenSet&) const { return 0; }
bool Query::any_hit(const TokenSet&) const { return false; }
double Query::value_relevance(std::size_t) const { return 0; }

}  // namespace quendra
