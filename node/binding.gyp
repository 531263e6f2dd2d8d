# The addon, built by scripts/build.js (npm install) with node-gyp.
# quendra_core is the library, compiled from the sources in vendor/ with C++
# exceptions on, since it uses them internally behind its catch-all guard;
# the addon itself calls only the library's C interface and is built without
# C++ exceptions. Only the addon's registration functions are exported.
{
  'targets': [
    {
      'target_name': 'quendra_core',
      'type': 'static_library',
      'sources': ['<!@(node scripts/sources.js)'],
      'include_dirs': ['vendor/include', 'vendor/src'],
      'defines': ['QUENDRA_BUILDING'],
      'cflags!': ['-Wno-unused-parameter'],
      'cflags': ['-fPIC', '-fvisibility=hidden', '-Wpedantic'],
      'cflags_cc!': ['-fno-exceptions', '-fno-rtti', '-std=gnu++17'],
      'cflags_cc': [
        '-std=c++20', '-fexceptions', '-fvisibility-inlines-hidden',
        '<!@(pkg-config --cflags icu-uc libfyaml)',
      ],
    },
    {
      'target_name': 'quendra',
      'dependencies': ['quendra_core'],
      'sources': ['addon/quendra_node.cc'],
      'include_dirs': [
        '<!(node -p "require(\'node-addon-api\').include_dir")',
        'vendor/include',
      ],
      'defines': [
        'NAPI_VERSION=8',
        'NAPI_DISABLE_CPP_EXCEPTIONS',
        'NODE_ADDON_API_DISABLE_DEPRECATED',
      ],
      'cflags!': ['-Wno-unused-parameter'],
      'cflags': ['-fvisibility=hidden', '-Wpedantic'],
      'cflags_cc!': ['-std=gnu++17'],
      'cflags_cc': ['-std=c++20', '-fvisibility-inlines-hidden'],
      'ldflags': ['-Wl,--version-script=<(module_root_dir)/addon/quendra_node.map'],
      'libraries': ['<!@(pkg-config --libs icu-uc libfyaml)'],
    },
  ],
}
