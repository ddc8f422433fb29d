// Reaching the remote from another machine: its addresses on this network,
// and the QR code that opens the first of them from a phone.
#pragma once

#include <string>

// The start lines after the first. When listening beyond loopback (listen
// is the address it listens on, key the key): for each address of the
// machine that serves, "tarvik: on this network: http://ADDR:PORT/?key=KEY",
// then, when standard output is a terminal, the QR code of the first.
void announce_network(const std::string& listen, int port, const std::string& key);

// GET /api/qr.svg: the QR code of the first address as an SVG image (200),
// or 404 with a JSON reason when there is none. Returns the status.
int phone_qr_answer(std::string* body, std::string* type);
