// Ids of the chat window's captions and labels (the words are in resources/i18n/texts.tsv).
#pragma once

enum chat_text_id {
    T_CHAT_WITH = 2301,
    T_CHAT_SEND = 2302,
    T_CHAT_CLEAR = 2303,
    T_CHAT_CLOSE = 2304,
    T_CHAT_SAVE = 2305,
    T_CHAT_SEND_ON_RETURN = 2306,
    T_CHAT_HIDE_PANEL = 2307,
    T_CHAT_SHOW_PANEL = 2308,
    T_CHAT_SAVE_FORMAT = 2309,
    T_CHAT_SAVE_RTF = 2310,
    T_CHAT_SAVE_TEXT = 2311,
    T_CHAT_BAD_SAVE_TYPE = 2312,
    T_CHAT_RTF_FILTER = 2313,
    T_CHAT_TEXT_FILTER = 2314,
    T_CHAT_ALL_FILTER = 2315,
    T_CHAT_PEER_VIDEO = 2316,
    T_CHAT_MY_VIDEO = 2317,
    T_CHAT_AUDIO = 2318,
    T_CHAT_QUALITY = 2319,
    T_CHAT_SIZE = 2320,
    T_CHAT_SPEED = 2321,
    T_CHAT_START_MY_AUDIO = 2322,
    T_CHAT_STOP_MY_AUDIO = 2323,
    T_CHAT_START_PEER_AUDIO = 2324,
    T_CHAT_STOP_PEER_AUDIO = 2325,
    // Tool tips of the panel's video switches and zoom buttons.
    T_CHAT_START_PEER_VIDEO = 2920,
    T_CHAT_STOP_PEER_VIDEO = 2921,
    T_CHAT_START_MY_VIDEO = 2922,
    T_CHAT_STOP_MY_VIDEO = 2923,
    T_CHAT_ZOOM_PEER_VIDEO = 2924,
    T_CHAT_ZOOM_MY_VIDEO = 2925,
};
// The string-table text shown when a file cannot be written.
constexpr int T_CHAT_WRITE_FAILED = 189;
