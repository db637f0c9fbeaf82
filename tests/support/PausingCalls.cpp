#include "support/PausingCalls.h"

namespace testsupport {

PausingCopy* PausingCopy::active_ = nullptr;
PausingFlush* PausingFlush::active_ = nullptr;

}  // namespace testsupport
