// The cycle lock on Windows: a lock file beside the configuration, held open without sharing.
#include "platform.h"
#include "platform_win32_internal.h"

#include "support/memory.h"
#include "wide_text_win32.h"

#include <windows.h>

#include <errno.h>
#include <wchar.h>

namespace {

const wchar_t LOCK_SUFFIX[] = L".lock";

// The configuration's final path (links resolved, one spelling for every prefix and case),
// with room for the suffix; its full path where the final one is not known. Null when the
// file cannot be opened.
wchar_t *lock_file_name(const char *configuration_path) {
    wchar_t *wide = wide_from_utf8(configuration_path);
    if (!wide) return nullptr;
    HANDLE file = CreateFileW(wide, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    mem_free(wide);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    DWORD needed = GetFinalPathNameByHandleW(file, nullptr, 0, VOLUME_NAME_DOS);
    wchar_t *name =
        needed ? static_cast<wchar_t *>(mem_calloc(needed + 8, sizeof(wchar_t))) : nullptr;
    DWORD length = name ? GetFinalPathNameByHandleW(file, name, needed, VOLUME_NAME_DOS) : 0;
    CloseHandle(file);
    if (name && (length == 0 || length >= needed)) {
        mem_free(name);
        name = nullptr;
    }
    if (!name) {
        DWORD full_length = 0;
        wchar_t *full = full_wide_path(configuration_path, &full_length);
        if (!full) return nullptr;
        name = static_cast<wchar_t *>(mem_calloc(full_length + 8, sizeof(wchar_t)));
        if (name) wcscpy(name, full);
        mem_free(full);
    }
    if (name) wcscat(name, LOCK_SUFFIX);
    return name;
}

// A security descriptor whose access list lets only this process's account in, inheriting
// nothing from the folder. Its parts live in one block to release with mem_free.
SECURITY_DESCRIPTOR *own_account_only() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + size;
    char *block =
        size
            ? static_cast<char *>(mem_calloc(1, sizeof(SECURITY_DESCRIPTOR) + acl_size + size + 16))
            : nullptr;
    SECURITY_DESCRIPTOR *descriptor = reinterpret_cast<SECURITY_DESCRIPTOR *>(block);
    TOKEN_USER *user =
        block ? reinterpret_cast<TOKEN_USER *>(block + sizeof(SECURITY_DESCRIPTOR)) : nullptr;
    size_t acl_offset = (sizeof(SECURITY_DESCRIPTOR) + size + 7) & ~size_t(7);
    ACL *acl = block ? reinterpret_cast<ACL *>(block + acl_offset) : nullptr;
    bool made = block && GetTokenInformation(token, TokenUser, user, size, &size) &&
                InitializeAcl(acl, acl_size, ACL_REVISION) &&
                AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user->User.Sid) &&
                InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) &&
                SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    CloseHandle(token);
    if (!made) {
        mem_free(block);
        return nullptr;
    }
    return descriptor;
}

} // namespace

int platform_lock_cycle(const char *configuration_path, PlatformCycleLock *lock) {
    lock->handle = 0;
    wchar_t *name = lock_file_name(configuration_path);
    if (!name) return 0;
    SECURITY_DESCRIPTOR *descriptor = own_account_only();
    if (!descriptor) {
        mem_free(name);
        return ENOMEM;
    }
    // Not inheritable, so no command the cycle starts holds it; shared with no one, so a second
    // opener, by any spelling, is refused while it is held.
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE file = CreateFileW(name, GENERIC_READ, 0, &attributes, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD error = GetLastError();
    mem_free(descriptor);
    mem_free(name);
    if (file == INVALID_HANDLE_VALUE)
        return error == ERROR_SHARING_VIOLATION ? EBUSY : errno_of(error);
    lock->handle = reinterpret_cast<long long>(file);
    return 0;
}

void platform_unlock_cycle(PlatformCycleLock *lock) {
    if (!lock->handle) return;
    CloseHandle(reinterpret_cast<HANDLE>(lock->handle));
    lock->handle = 0;
}
