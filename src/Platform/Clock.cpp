#include "Platform/Clock.h"

namespace brevalto {

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}

}  // namespace brevalto
