#pragma once

class QWidget;

namespace Varnel {

// The connect page's kill-switch step: runs the block script (enable) or the
// reset script and waits for it (bounded). A missing script gets the
// "File Error" information box, parented to page; the connect goes on.
void applyNetworkInterfaceState(QWidget *page, bool enable);

} // namespace Varnel
