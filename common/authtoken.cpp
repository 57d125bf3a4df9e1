#include "common/authtoken.h"

#include "common/md5.h"

#include <cstring>
#include <string>

int MakeAuthToken(const char *password, int32_t number, char *token)
{
    if (!password || !token)
        return -1;

    // "%s:%d:%s" of the password, the number and the fixed word.
    std::string text(password);
    text += ':';
    text += std::to_string(number);
    text += ":varno";

    const std::string hex = varno::md5Hex(text);
    std::memcpy(token, hex.c_str(), kAuthTokenSize); // 32 digits and the NUL
    return 0;
}
