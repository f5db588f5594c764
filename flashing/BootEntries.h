#pragma once

#include "BootLink.h"

// Boot-mode entries. Each empties the status log first and returns true with the device in
// boot mode on an open, configured port; false after saying why (a log line, or the message
// window when a fixed port does not open).

// Server on the port of the port box; waits (without time limit, until STOP) for its greeting.
bool OpenServerBoot(BootLink& link);
// Server found by the port search.
bool OpenServerBootAuto(BootLink& link);
// The greeting after its first 0xAA: version, acknowledgement, firmware number.
bool ServerBootHandshake(BootLink& link);

// Card behind the server on the port of the port box, 9600 baud.
bool OpenViaServer(BootLink& link);
// Card behind the server found by the port search, 19200 baud.
bool OpenViaServerAuto(BootLink& link);
// Probes the server until it opens its pass-through or STOP comes.
bool ActivateViaServer(BootLink& link);

// Card in a reader on the port of the port box (echoing link, 9600 8E2).
// No answer to reset at all: the card is not there.
inline constexpr const char* kLineAtrTimeout = "Błąd : przekroczony czas oczekiwania";
bool OpenCardBoot(BootLink& link);
