// A pause of `histadmin serve` between its set-up and its load, for the
// test that shows that no other histadmin command lands in that moment.
// Only the tool as the tests run it has it; the shipped tool never
// pauses.
#pragma once

namespace kha::histadmin {

// In the tool as the tests run it (POSIX): while the file named by
// KESTIHISTADMIN_TEST_SERVE_PAUSE exists, after saying so on standard
// error. Elsewhere nothing.
void PauseBetweenSetUpAndLoad();

}  // namespace kha::histadmin
