#pragma once

// Local user store: operator accounts with salted PBKDF2 password hashes in
// the installation directory. Results: 0 success, USER_LOCAL_NO_USER when the
// name does not exist, USER_LOCAL_BAD_PASSWORD for a wrong password, another
// negative value for any other failure.

extern "C" {

enum {
    USER_LOCAL_NO_USER = -769,
    USER_LOCAL_BAD_PASSWORD = -770,
    USER_LOCAL_ERR_PARAM = -771,
    USER_LOCAL_ERR_STORE = -772,
    USER_LOCAL_ERR_NOT_INIT = -773,
};

// Default operator account, created when the store is empty.
#define USER_LOCAL_DEFAULT_NAME "admin"
#define USER_LOCAL_DEFAULT_PASSWORD "admin"

// Size of one user entry in the information buffer of User_local_getusrinfo:
// the 32-byte user name comes first. The buffer has room for 100 entries
// (3,200 bytes).
enum { USER_LOCAL_INFO_SIZE = 32, USER_LOCAL_MAX_USERS = 100 };

int User_local_Init();
int User_local_UnInit();
// Fills count and, for each user, its 32-byte NUL-terminated name.
int User_local_getusrinfo(int *count, char *info);
int User_local_login(const char user[32], const char password[32]);
int User_local_chpass(const char user[32], const char oldPassword[32], const char newPassword[32]);

} // extern "C"
