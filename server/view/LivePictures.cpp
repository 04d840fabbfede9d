#include "server/view/LivePictures.h"

namespace kvr::view {

namespace LivePictures {

namespace {

int& shown()
{
    static int count = 0;
    return count;
}

} // namespace

int count()
{
    return shown();
}

void Mark::set(bool showing)
{
    if (showing == m_set)
        return;
    m_set = showing;
    shown() += showing ? 1 : -1;
}

} // namespace LivePictures

} // namespace kvr::view
