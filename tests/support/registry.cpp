// Registry values written and read back by the tests.
#include "support.h"

namespace testing_support {

Value NoValue() {
    return Value();
}

Value DwordValue(DWORD count) {
    Value value{true, REG_DWORD, std::vector<BYTE>(4)};
    CopyMemory(value.data.data(), &count, 4);
    return value;
}

Value TextValue(const std::string &text) {
    Value value{true, REG_SZ, std::vector<BYTE>(text.begin(), text.end())};
    value.data.push_back(0);
    return value;
}

Value BinaryValue(std::vector<BYTE> bytes) {
    return Value{true, REG_BINARY, std::move(bytes)};
}

std::string Describe(const Value &value) {
    if (!value.present)
        return "(no value)";
    std::string text = "type " + std::to_string(value.type) + ":";
    for (BYTE b : value.data)
        text += " " + std::to_string(b);
    return text;
}

Value ReadValue(HKEY root, const std::string &key, const std::string &name) {
    Value value;
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(opened, name.c_str(), nullptr, &value.type, nullptr, &size) ==
        ERROR_SUCCESS) {
        value.data.resize(size);
        if (RegQueryValueExA(opened, name.c_str(), nullptr, &value.type, value.data.data(),
                             &size) == ERROR_SUCCESS) {
            value.present = true;
            value.data.resize(size);
        }
    }
    RegCloseKey(opened);
    return value;
}

bool WriteValue(HKEY root, const std::string &key, const std::string &name, const Value &value) {
    if (!value.present) {
        DeleteValue(root, key, name);
        return true;
    }
    HKEY opened;
    if (RegCreateKeyA(root, key.c_str(), &opened) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(opened, name.c_str(), 0, value.type, value.data.data(),
                                 (DWORD)value.data.size());
    RegCloseKey(opened);
    return result == ERROR_SUCCESS;
}

void DeleteValue(HKEY root, const std::string &key, const std::string &name) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(opened, name.c_str());
    RegCloseKey(opened);
}

void RemoveKeyTree(HKEY root, const std::string &key) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS)
        return;
    char name[256];
    DWORD size = sizeof name;
    while (RegEnumKeyExA(opened, 0, name, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
        RemoveKeyTree(opened, name);
        size = sizeof name;
    }
    RegCloseKey(opened);
    RegDeleteKeyA(root, key.c_str());
}

} // namespace testing_support
