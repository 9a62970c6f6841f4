#include "social/inbound.h"

#include <string.h>

int inbound_parse(const char* text, InboundMessage* out) {
    memset(out, 0, sizeof *out);
    out->text = text ? text : "";
    if (friend_message_parse(out->text, &out->friend_message)) {
        out->family = INBOUND_FRIEND;
    } else if (jam_wire_parse(out->text, &out->jam)) {
        out->family = INBOUND_JAM;
    }
    return out->family;
}

const wchar_t* inbound_sender(const InboundMessage* m) {
    if (m->family == INBOUND_FRIEND) return m->friend_message.tag;
    if (m->family == INBOUND_JAM) return m->jam.tag;
    return L"";
}
