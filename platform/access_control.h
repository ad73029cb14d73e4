// Who may change a file or folder, and the access that keeps the tool's working root to
// administrators. The Windows side (access_win32.cpp) reads and sets access lists and owners, the
// POSIX side (access_posix.cpp) owners and mode bits.
#pragma once

// Who may change a file or folder, as a look at it found.
enum change_access {
    CHANGED_BY_ADMINS_ONLY,  // only administrators may write, append, delete or change its permissions
    CHANGED_BY_OTHERS,       // someone else may as well
    CHANGE_ACCESS_UNKNOWN,   // the system could not tell
};

// Whom a look counts as administrators: the system's own (SYSTEM, Administrators; root), or those
// and the installer service (TrustedInstaller), which owns what Windows puts under Program Files.
enum admin_circle { ADMINS, ADMINS_AND_INSTALLER };

// Who may change the file or folder at path. Windows: its owner (who may always change its
// permissions) and every allow entry of its access list that grants writing, appending, deleting or
// changing permissions or owner, for itself or, inherited, for what is below; "creator" entries,
// which only pass rights to whoever creates something below, are left to those who may create.
// Besides the circle, the user this process runs as counts as an administrator while the process
// is one (Wine reports a file as owned by that user, with full control). A missing list lets
// everyone change it. POSIX: owned by root and writable by neither group nor others.
change_access platform_change_access(const char *path, admin_circle circle);

// Creates the folder at path with the access that keeps it to administrators. Windows: a protected
// access list (nothing inherited from above): SYSTEM and Administrators full control, Users read
// and execute, inherited by every folder and file below. POSIX: mode 0755, owned by root where this
// process may say so. 0, or the system's error code (the folder may exist even then).
int platform_make_admin_folder(const char *path);

// Gives the existing folder at path that access: Windows the same protected list, and
// Administrators as owner when its owner was none of them; POSIX mode 0755 and root as owner.
// 0, or the system's error code.
int platform_keep_to_admins(const char *path);

// True when this process may add files and folders to the folder at path, or the system cannot
// tell (the write itself then says).
bool platform_may_add_entries(const char *path);
