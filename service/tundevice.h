#pragma once

// The tunnel devices the service makes: persistent tun devices named
// "vvpn0".."vvpn99", each owned by the user it was made for, so that the
// user's own OpenVPN or OpenConnect attaches to it without any privilege.

#include <sys/types.h>

#include <string>
#include <vector>

namespace Varnel::Service::TunDevice {

// A name no device has yet, or empty when all of them are taken.
std::string freeName();

// Makes the device name, owned by owner. False with the reason otherwise.
bool make(const std::string &name, uid_t owner, std::string *error);

// Removes the device, also while a program still has it open.
bool remove(const std::string &name, std::string *error);

// The tun devices with one of our names: what a killed service left. An
// error (the list may be incomplete then) goes to *error.
std::vector<std::string> leftovers(std::string *error);

} // namespace Varnel::Service::TunDevice
