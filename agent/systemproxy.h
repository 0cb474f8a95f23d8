#pragma once
// The proxy of the clinic's network, for every request of this process.

namespace vek::agent {

// Routes requests through the proxy the system is set up with: the Internet
// settings on Windows; on Linux the desktop's settings and the http_proxy,
// https_proxy and no_proxy variables. They are read for each new connection,
// so a changed setting applies without a restart. Loopback addresses never
// go through a proxy. Every owner of a network access manager calls this, so
// that an owner made before start-up, or in a test, behaves as the program
// does.
void UseSystemProxySettings();

}  // namespace vek::agent
