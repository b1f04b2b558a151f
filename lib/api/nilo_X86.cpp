// The shared library is nilo_core linked whole (see lib/CMakeLists.txt); this
// translation unit only gives the target a source of its own.
