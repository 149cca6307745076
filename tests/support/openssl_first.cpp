// Compiled into every test program that uses the test bench: OpenSSL is initialised as the
// program initialises it, before the bench's certificates and servers use it. Otherwise the
// first of those would read OpenSSL's configuration file, which the planting test puts in
// OpenSSL's folders while other tests run.
#include "mail/connection/connection.h"

namespace {
const bool initialisedFirst = (initialiseTlsLibrary(), true);
}
