// libstdc++ 13 and later keep one member of std::wstring, the rarely taken path of _M_replace (assigning
// from a pointer into the string itself), in the library only: it is declared an extern template even for
// C++20, where every other member is instantiated where it is used. Referring to it would link the
// library's whole wide-string object, about 18 KB, since a static MinGW-w64 link keeps every function of an
// object whose unwind data (.pdata) it keeps. Instantiated here from the same header, that one function is
// all that comes along; what the program does is the same. Other compilers and libraries need nothing.
#include <string>

#if defined(__GLIBCXX__) && defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 13 && _GLIBCXX_USE_CXX11_ABI
template void std::wstring::_M_replace_cold(wchar_t*, std::wstring::size_type, const wchar_t*,
                                            const std::wstring::size_type, const std::wstring::size_type);
#endif
