// The remote page: the panel's keys in the unit's layout, large enough to tap on a phone,
// with the computer keyboard's map. Self-contained: nothing is loaded from elsewhere.
// The page reads the access token from its address (after "#token=") and sends it with
// each key; it shows for each key whether it went out, or the device's error text.
#pragma once

#include <string>

std::string RemotePageHtml();
std::string RemotePageScript();
std::string RemotePageStyle();
