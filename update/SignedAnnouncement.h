// The optional signed announcement: with the maker's ECDSA P-256 public key
// built in (VELMORA_UPDATE_PUBLIC_KEY), a newer version is offered only when
// the version page carries the maker's signature over the exact version and
// download address, with a last day after which it is no longer offered.
//
// On the page, anywhere:  <!--velmora-signature:YYYY-MM-DD:HEX-->
// where HEX is the raw signature r || s (64 bytes) over SHA-256 of
//   "Velmora announcement\nversion=V\naddress=A\nexpires=YYYY-MM-DD\n"
// (tools/sign_announcement.py prints that line).
#pragma once

#include "runtime/Text.h"

extern const char kSignatureStart[];
extern const char kSignatureEnd[];

// The key built into this executable (65 bytes: 04, X, Y), read from its
// UPDATEKEY resource; empty when the maker built without one. A resource
// that holds no such key gives a single zero byte: a key no page can match.
Bytes BuiltInAnnouncementKey();

// 130 hex digits, 04 first, as 65 bytes; empty for anything else.
Bytes ParsePublicKey(const Text& hex);

// Today's date in UTC, YYYY-MM-DD.
Text TodayUtc();

// Is `signature` (the text between the markers) the key's signature over
// this version and address, its last day today or later?
bool IsSignedAnnouncement(const Text& version, const Text& address, const Text& signature, const Bytes& key,
                          const Text& today);
