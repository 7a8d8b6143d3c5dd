#include "common/gui/pageindex.h"

#include "common/config.h"

namespace Varnel {

void recordPages(LeftPage left, RightPage right)
{
    Config::instance()->saveState(int(left), int(right));
}

} // namespace Varnel
