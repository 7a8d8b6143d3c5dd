#pragma once

namespace Varnel::RefBackend::Routes {

// The remote data document; its path is fixed in the client.
constexpr char kRemoteData[] = "/api/getWindowsData.php";
// The same document under a Cloud Firestore REST path, for the about page's one-off GET.
constexpr char kFirestoreDocument[] = R"(/v1/projects/[^/]+/databases/\(default\)/documents/data/[^/]+)";

// Operations; the client learns these from the remote data document.
constexpr char kLogin[] = "/api/login.php";
constexpr char kSignUp[] = "/api/signup.php";
constexpr char kForgotPassword[] = "/api/forgot_password.php";
constexpr char kLoggedDevices[] = "/api/logged_devices.php";
constexpr char kSubscribe[] = "/api/subscribe.php";
constexpr char kRedeemVoucher[] = "/api/redeem_voucher.php";
constexpr char kRefer[] = "/api/refer.php";
constexpr char kReferInfo[] = "/api/refer_info.php";

// Test controls; never counted and never faulted.
constexpr char kControlPrefix[] = "/_control/";

} // namespace Varnel::RefBackend::Routes
