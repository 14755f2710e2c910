# Read after project(): prefer static archives, so that GLib and PCRE found
# through pkg-config end up inside the board's statically linked programs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .so)
