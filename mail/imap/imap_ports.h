#pragma once

// The standard IMAP ports: IMAP inside TLS from the first byte, and plain IMAP (STARTTLS).
const int imapTlsPort = 993;
const int imapPlainPort = 143;
