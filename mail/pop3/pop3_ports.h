#pragma once

// The standard POP3 ports: POP3 inside TLS from the first byte, and plain POP3.
const int pop3TlsPort = 995;
const int pop3PlainPort = 110;
