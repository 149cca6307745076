#pragma once

// How the stream to the server is secured: TLS from the first byte (POP3S, port 995), plain
// POP3 upgraded to TLS with STLS before anything else is said (port 110), or not at all.
enum class ConnectionSecurity { TlsOnConnect, StartTls, None };
