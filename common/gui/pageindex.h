#pragma once

namespace Varnel {

// Indices of the root window's stack.
enum class RootPage : int {
    AutoLogin = 0,
    ServerSelection = 1,   // an instance kept in the form, never shown
    Login = 2,
    Server = 3,            // the logged-in area
};

// Indices of the logged-in area's left stack: the server list and the
// side-menu pages. They are persisted ("State"/"firstState"), so they never
// change meaning.
enum class LeftPage : int {
    ServerList = 0,
    Menu = 1,
    MyAccount = 2,
    Support = 3,
    Tools = 4,
    ReferralRedeem = 5,
    VarnelMore = 6,
    AboutUs = 7,
    ReferFriend = 8,
    Setting = 9,
    Devices = 10,
    RedeemVoucher = 11,
};

// Indices of the logged-in area's right stack ("State"/"secoundState").
enum class RightPage : int {
    Connect = 0,
    Purchase = 1,
};

// Records the page pair, so the logged-in area reopens where it was left.
void recordPages(LeftPage left, RightPage right = RightPage::Connect);

} // namespace Varnel
