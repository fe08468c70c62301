// Linked into every binary of the windows build (cmake/windows_release.cmake).
//
// The C++ runtime's default terminate handler prints the name of the type of the exception
// that ended the program, and to spell that name it carries a whole name demangler: most of
// what the runtime adds to a binary. Our programs never print a C++ type name, and no
// exception is meant to reach terminate at all (an out-of-memory failure stops at the
// library's exported functions). Defining the handler here keeps the linker from taking the
// runtime's own, and with it the demangler. What is left is what that handler does after
// printing: abort.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

// The runtime's own name for its default handler.
void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
