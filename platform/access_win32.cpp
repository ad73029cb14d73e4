// Win32 side of access_control.h: owners and access lists, read with GetNamedSecurityInfoW, set
// with SetNamedSecurityInfoW from a security descriptor made of an SDDL string, and checked for
// this process with AccessCheck.
#include "access_control.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>

namespace {

// SYSTEM and Administrators full control, Users read and execute, each inherited by every folder
// and file below; protected, so that nothing is inherited from above (C:\ gives Authenticated Users
// the right to change what is created below it).
const wchar_t ADMIN_FOLDER_SDDL[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The installer service, owner of what Windows puts under Program Files.
const wchar_t INSTALLER_SID[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The rights that let someone change a file or folder: write (for a folder: add files), append (add
// folders), delete it or what it holds, change its permissions or owner, and the generic rights
// that hold them.
const DWORD CHANGE_RIGHTS =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct local_free {
    void operator()(void *memory) const { LocalFree(memory); }
};
using local_memory = std::unique_ptr<void, local_free>;

struct handle_close {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using handle = std::unique_ptr<void, handle_close>;

// The path, in the system's ANSI code page, as wide characters; empty when it cannot be converted.
std::wstring wide_path(const char *path)
{
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

// Who counts as an administrator for one look: SYSTEM, Administrators, the installer service when
// the circle holds it, and the user this process runs as while the process is an administrator.
class administrators {
  public:
    explicit administrators(admin_circle circle)
    {
        PSID installer = nullptr;
        if (circle == ADMINS_AND_INSTALLER && ConvertStringSidToSidW(INSTALLER_SID, &installer))
            installer_.reset(installer);
        find_own_user();
    }

    bool include(PSID sid) const
    {
        return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
               (installer_ != nullptr && EqualSid(sid, installer_.get())) ||
               (own_user_ != nullptr && EqualSid(sid, own_user_));
    }

  private:
    void find_own_user()
    {
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD admins_size = sizeof admins;
        BOOL member = FALSE;
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size) ||
            !CheckTokenMembership(nullptr, admins, &member) || !member)
            return;
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        handle hold(token);
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, user_, sizeof user_, &size))
            own_user_ = reinterpret_cast<TOKEN_USER *>(user_)->User.Sid;
    }

    local_memory installer_;
    alignas(TOKEN_USER) BYTE user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    PSID own_user_ = nullptr;
};

// Entries for "whoever creates something below" only pass rights on to those who may create; the
// owner's own entry adds to the owner, who is looked at as the owner.
bool is_creator_entry(PSID sid)
{
    return IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorGroupSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

// True when the allow entry lets someone who is not an administrator change the object. An allow
// entry of a kind whose trustee is not read here counts when it grants such rights.
bool entry_lets_others_change(const void *entry, const administrators &admins)
{
    const ACE_HEADER *header = static_cast<const ACE_HEADER *>(entry);
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        const ACCESS_ALLOWED_ACE *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(entry);
        PSID sid = const_cast<DWORD *>(&allowed->SidStart);
        return (allowed->Mask & CHANGE_RIGHTS) != 0 && !admins.include(sid) && !is_creator_entry(sid);
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return (static_cast<const ACCESS_ALLOWED_OBJECT_ACE *>(entry)->Mask & CHANGE_RIGHTS) != 0;
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        return true;
    default:
        return false;  // a deny entry takes rights away
    }
}

// The protected list of ADMIN_FOLDER_SDDL as a security descriptor (null when it cannot be made).
local_memory admin_folder_descriptor()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ADMIN_FOLDER_SDDL, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return nullptr;
    return local_memory(descriptor);
}

// Gives the object Administrators as owner when its owner is none of the administrators: an owner
// may always change the permissions. 0, or the system's error code.
DWORD give_owner_to_administrators(const std::wstring &path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                        nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return error;
    local_memory hold(descriptor);
    if (administrators(ADMINS).include(owner))
        return 0;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size))
        return GetLastError();
    return SetNamedSecurityInfoW(const_cast<wchar_t *>(path.c_str()), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                 admins, nullptr, nullptr, nullptr);
}

} // namespace

change_access platform_change_access(const char *path, admin_circle circle)
{
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(wide_path(path).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &list,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return CHANGE_ACCESS_UNKNOWN;
    local_memory hold(descriptor);
    administrators admins(circle);
    if (owner == nullptr || !admins.include(owner) || list == nullptr)
        return CHANGED_BY_OTHERS;
    for (DWORD i = 0; i < list->AceCount; i++) {
        void *entry = nullptr;
        if (!GetAce(list, i, &entry))
            return CHANGE_ACCESS_UNKNOWN;
        if (entry_lets_others_change(entry, admins))
            return CHANGED_BY_OTHERS;
    }
    return CHANGED_BY_ADMINS_ONLY;
}

int platform_make_admin_folder(const char *path)
{
    local_memory descriptor = admin_folder_descriptor();
    if (descriptor == nullptr)
        return static_cast<int>(GetLastError());
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryW(wide_path(path).c_str(), &attributes) ? 0 : static_cast<int>(GetLastError());
}

int platform_keep_to_admins(const char *path)
{
    local_memory descriptor = admin_folder_descriptor();
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    if (descriptor == nullptr || !GetSecurityDescriptorDacl(descriptor.get(), &present, &list, &defaulted))
        return static_cast<int>(GetLastError());
    std::wstring wide = wide_path(path);
    DWORD error = SetNamedSecurityInfoW(&wide[0], SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, list, nullptr);
    if (error == ERROR_SUCCESS)
        error = give_owner_to_administrators(wide);
    return static_cast<int>(error);
}

bool platform_may_add_entries(const char *path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(wide_path(path).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    local_memory hold(descriptor);
    HANDLE token = nullptr, identification = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token))
        return true;
    handle hold_token(token);
    if (!DuplicateToken(token, SecurityIdentification, &identification))
        return true;
    handle hold_identification(identification);
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privileges_size = sizeof privileges, granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(descriptor, identification, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, &mapping, &privileges,
                     &privileges_size, &granted, &allowed))
        return true;
    return allowed != FALSE;
}
