// Stores the six proxy values in section "proxy", as the proxy options would. address is a dotted
// IPv4 address (kept as one 32-bit number, first octet most significant); type 0 HTTP CONNECT,
// 1 SOCKS4, 2 SOCKS5. Returns 0, or -1 for an address that is not dotted IPv4.
#pragma once

int save_proxy_settings(int use_proxy, int type, const char* address, int port,
                        const char* user_name, const char* password);
// Turns the proxy off, keeping the other values.
int disable_proxy();

// "Proxy everything" (value proxy_everything of the same section; on when absent): while a proxy
// is in use, the client makes no connection outside it and takes none: no peer listener, no
// relay ports, no own address announced; peers are reached through relays. True only when a
// proxy is in use and the value is not 0.
bool proxy_everything();
int save_proxy_everything(bool on);
