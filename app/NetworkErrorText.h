// Spanish texts of the network failures a box may tell: the HTTP client's numbers (120xx),
// the sockets' and the resolver's (100xx, 110xx), in the words Windows uses in Spanish.
#pragma once

#include <string>

// Empty for a number the table does not know.
std::string NetworkErrorText(unsigned long number);

// "(N) - text" for a failure of the network, never empty and never English: a number the
// table does not know gets the text of an undocumented error.
std::string NumberedNetworkErrorText(unsigned long number);

// The proxy answered 407: its number in the boxes.
inline constexpr unsigned long kProxyAuthenticationRequired = 407;
