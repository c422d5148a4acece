#pragma once

#include "store/registry.h"

namespace kestrin
{

// The Windows registry through its ANSI functions: names are converted to the system code page at
// each call, and a name that would not survive the conversion is refused rather than altered.
class Win32Registry final : public Registry
{
public:
    Status OpenKey(RootKey root, std::wstring_view path, KeyHandle& key) override;
    Status CreateKey(RootKey root, std::wstring_view path, KeyHandle& key) override;
    Status QueryValue(KeyHandle key, std::wstring_view name, ValueProbe* probe) override;
    Status SetDwordValue(KeyHandle key, std::wstring_view name, std::uint32_t data) override;
    Status DeleteValue(KeyHandle key, std::wstring_view name) override;
    Status CloseKey(KeyHandle key) override;
};

} // namespace kestrin
