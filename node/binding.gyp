# The addon, built by scripts/build.js with node-gyp (npm run build, or npm
# install where no prebuilt addon fits). quendra_core is the library,
# compiled from the sources in vendor/ (with the Unicode tables generated
# from ICU in vendor/generated) with C++ exceptions on, since it uses them
# internally behind its catch-all guard; the addon itself calls only the
# library's C interface and is built without C++ exceptions. Only the
# addon's registration functions are exported. libstdc++ is linked in, and
# the libraries it needs are looked for beside the addon first ($ORIGIN), so
# that a prebuilt addon carries libfyaml with it (scripts/prepack.js).
{
  'targets': [
    {
      'target_name': 'quendra_core',
      'type': 'static_library',
      'sources': ['<!@(node scripts/sources.js)'],
      'include_dirs': ['vendor/include', 'vendor/src', 'vendor/generated'],
      'defines': ['QUENDRA_BUILDING'],
      'cflags!': ['-Wno-unused-parameter'],
      'cflags': ['-fPIC', '-fvisibility=hidden', '-Wpedantic'],
      'cflags_cc!': ['-fno-exceptions', '-fno-rtti', '-std=gnu++17'],
      'cflags_cc': [
        '-std=c++20', '-fexceptions', '-fvisibility-inlines-hidden',
        '<!@(node scripts/fyaml.js --cflags)',
      ],
    },
    {
      'target_name': 'quendra',
      'dependencies': ['quendra_core'],
      'sources': ['addon/quendra_node.cc'],
      'include_dirs': ['vendor/node-addon-api', 'vendor/include'],
      'defines': [
        'NAPI_VERSION=8',
        'NAPI_DISABLE_CPP_EXCEPTIONS',
        'NODE_ADDON_API_DISABLE_DEPRECATED',
      ],
      'cflags!': ['-Wno-unused-parameter'],
      'cflags': ['-fvisibility=hidden', '-Wpedantic'],
      'cflags_cc!': ['-std=gnu++17'],
      'cflags_cc': ['-std=c++20', '-fvisibility-inlines-hidden'],
      'ldflags': [
        '-static-libstdc++',
        '-Wl,--gc-sections',
        '-Wl,--exclude-libs,ALL',
        "-Wl,-rpath,'$$ORIGIN'",
        '-Wl,--version-script=<(module_root_dir)/addon/quendra_node.map',
      ],
      'libraries': ['<!@(node scripts/fyaml.js --libs)'],
    },
  ],
}
