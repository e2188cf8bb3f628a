// The country list of the registration dialog, in its fixed order (not sorted by the control).
#pragma once

constexpr int kCountryCount = 267;
constexpr int kCountryChars = 63;  // a country as read from the control
// The name at index 0 .. kCountryCount - 1, or nullptr.
const char* country_name(int index);
