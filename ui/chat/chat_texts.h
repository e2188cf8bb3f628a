// Ids of the chat window's captions and labels (T_CHAT_...; the words are in
// resources/i18n/texts.tsv, the names in the generated protocol/text_ids.h).
#pragma once

#include "protocol/texts.h"
