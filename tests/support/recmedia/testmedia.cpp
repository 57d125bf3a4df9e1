#include "tests/support/recmedia/testmedia.h"

namespace varno::test {

uint32_t recorderFrameType(int nalType)
{
    switch (nalType) {
    case 5: return 101;
    case 1: return 102;
    case 6: return 103;
    case 7: return 104;
    case 8: return 105;
    default: return 0;
    }
}

} // namespace varno::test
