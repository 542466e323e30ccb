# Warnings are errors in every build.
add_library(ilvarc_warnings INTERFACE)
target_compile_options(ilvarc_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-qual
    -Wformat=2 -Wundef -Wnull-dereference -Wold-style-cast -Werror)
