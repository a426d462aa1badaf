#pragma once
// The system registry: a tree of keys below predefined root keys, each key
// holding named, typed values. Names and calling conventions are those of the
// Windows registry functions, with 8-bit (UTF-8) strings. Every function
// returns a Windows error code (ERROR_SUCCESS when it worked).
//
// The store is one file, by default $XDG_CONFIG_HOME/zqcomm/registry.json
// (~/.config when XDG_CONFIG_HOME is unset); ZQ_REGISTRY_FILE names another
// file. A change is on disk before the call that made it returns.
#include "win32types.h"
#include "zqregistry_export.h"

#include <cstdint>
#include <functional>
#include <string>

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

// Predefined root keys. Only HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE hold
// data here; the others answer ERROR_INVALID_HANDLE.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t(0x80000002u));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(uintptr_t(0x80000003u));

// Access rights of an open key.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM KEY_READ = READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// RegCreateKeyEx options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Longest key name (one path element), in bytes, without the terminating NUL.
constexpr DWORD REG_MAX_KEY_NAME = 255;

// Opens hKey\lpSubKey ("\"-separated, letter case ignored). A null or empty
// lpSubKey opens a new handle to hKey itself.
ZQREGISTRY_EXPORT LONG RegOpenKeyEx(
    HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult);

// Opens hKey\lpSubKey, creating the missing keys on the way. lpdwDisposition
// (optional) receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. Key
// classes and security attributes are not kept; pass null.
ZQREGISTRY_EXPORT LONG RegCreateKeyEx(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass,
    DWORD dwOptions, REGSAM samDesired, void* lpSecurityAttributes, HKEY* phkResult, DWORD* lpdwDisposition);

// Name of the subkey at dwIndex (subkeys are in name order, letter case
// ignored). *lpcchName: in, the buffer size; out, the name's length without
// the NUL. ERROR_MORE_DATA when the name and its NUL do not fit,
// ERROR_NO_MORE_ITEMS past the last subkey. lpClass and lpftLastWriteTime are
// not kept: a class buffer receives an empty string.
ZQREGISTRY_EXPORT LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
    DWORD* lpReserved, char* lpClass, DWORD* lpcchClass, void* lpftLastWriteTime);

// Name, type and data of the value at dwIndex (values are in the order they
// were first set). Sizes behave as for RegEnumKeyEx and RegQueryValueEx.
ZQREGISTRY_EXPORT LONG RegEnumValue(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
    DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);

// Type and data of a value (a null or empty name is the key's default value).
// *lpcbData: in, the buffer size; out, the data size. With lpData null only
// the size is reported. ERROR_MORE_DATA (with the size needed) when the data
// do not fit, ERROR_FILE_NOT_FOUND when there is no such value.
ZQREGISTRY_EXPORT LONG RegQueryValueEx(
    HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);

// Stores cbData bytes as the value's data, as given: REG_SZ data should
// include the terminating NUL in cbData.
ZQREGISTRY_EXPORT LONG RegSetValueEx(
    HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData);

ZQREGISTRY_EXPORT LONG RegDeleteValue(HKEY hKey, const char* lpValueName);

// Deletes hKey\lpSubKey, which must have no subkeys (ERROR_ACCESS_DENIED
// otherwise). Handles still open on it answer ERROR_KEY_DELETED.
ZQREGISTRY_EXPORT LONG RegDeleteKey(HKEY hKey, const char* lpSubKey);

ZQREGISTRY_EXPORT LONG RegCloseKey(HKEY hKey);

namespace zq::registry {

// The file that holds the store (ZQ_REGISTRY_FILE, or the default place).
ZQREGISTRY_EXPORT std::string RegistryStoreFile();

// Runs work with the store kept from other programs' changes: what work
// reads and writes through the functions above is one read-modify-write
// across processes (a set-up that first looks whether it is needed and then
// makes it). Changes by other threads of this program are not held off.
// Calls may nest.
ZQREGISTRY_EXPORT void RegWithStoreHeld(const std::function<void()>& work);

} // namespace zq::registry
