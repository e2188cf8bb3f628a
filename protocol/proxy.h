// Stores the six proxy values in section "proxy", as the proxy options would. address is a dotted
// IPv4 address (kept as one 32-bit number, first octet most significant); type 0 HTTP CONNECT,
// 1 SOCKS4, 2 SOCKS5. Returns 0, or -1 for an address that is not dotted IPv4.
#pragma once

int save_proxy_settings(int use_proxy, int type, const char* address, int port,
                        const char* user_name, const char* password);
// Turns the proxy off, keeping the other values.
int disable_proxy();
