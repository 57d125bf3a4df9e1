#pragma once

// Local user store: operator accounts with salted PBKDF2-HMAC-SHA256
// password hashes in the installation directory (docs/userstore.md).
// Results: 0 success, USER_LOCAL_NO_USER when the name does not exist,
// USER_LOCAL_BAD_PASSWORD for a wrong password, another negative value for
// any other failure. Every call is thread-safe; calls before User_local_Init
// return USER_LOCAL_ERR_NOT_INIT. User names and passwords are 32-byte
// buffers holding NUL-terminated UTF-8 text (a missing terminator is
// tolerated: at most 32 bytes are read).

extern "C" {

enum {
    USER_LOCAL_NO_USER = -769,
    USER_LOCAL_BAD_PASSWORD = -770,
    USER_LOCAL_ERR_PARAM = -771,
    USER_LOCAL_ERR_STORE = -772,
    USER_LOCAL_ERR_NOT_INIT = -773,
    USER_LOCAL_ERR_CONFLICT = -774, // the password was changed meanwhile by another call
};

// Default operator account, created when the store is empty.
#define USER_LOCAL_DEFAULT_NAME "admin"
#define USER_LOCAL_DEFAULT_PASSWORD "admin"

// Size of one user entry in the information buffer of User_local_getusrinfo:
// the 32-byte user name comes first. The buffer has room for 100 entries
// (3,200 bytes).
enum { USER_LOCAL_INFO_SIZE = 32, USER_LOCAL_MAX_USERS = 100 };

// Loads the store, creating it with the default account when it is missing
// or empty. A damaged store is renamed to "<file>.corrupt-<time>" (logged)
// and a fresh one with the default account takes its place. A second call
// while initialised does nothing and returns 0.
int User_local_Init();
int User_local_UnInit();
// Fills count and, for each user, its 32-byte NUL-terminated name.
int User_local_getusrinfo(int *count, char *info);
int User_local_login(const char user[32], const char password[32]);
// The new password is 1 to 31 bytes (USER_LOCAL_ERR_PARAM otherwise); a
// store that cannot be written gives USER_LOCAL_ERR_STORE and keeps the old
// password.
int User_local_chpass(const char user[32], const char oldPassword[32], const char newPassword[32]);

} // extern "C"
