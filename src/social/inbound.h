#pragma once
// A received friend or Jam message, read once: the trust check decides on this record and
// the handlers act on the same record, so that both always agree on who sent it. Pure.
#include "social/friend_protocol.h"
#include "social/jam_wire.h"

enum { INBOUND_OTHER = 0, INBOUND_FRIEND = 1, INBOUND_JAM = 2 };

struct InboundMessage {
    int family;        // INBOUND_*; OTHER for what neither protocol acts on, malformed included
    const char* text;  // the message as it came (inside an envelope: the inside)
    FriendMessage friend_message;  // INBOUND_FRIEND
    JamWireMessage jam;            // INBOUND_JAM
};

// Reads text into out; returns the family. A message of a known kind that does not parse
// (a tag or name longer than any sender writes, say) is OTHER: nobody acts on it.
int inbound_parse(const char* text, InboundMessage* out);
// The tag the message names as its sender, as the handlers read it; empty when none.
const wchar_t* inbound_sender(const InboundMessage* m);
