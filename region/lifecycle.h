// Creating, opening, mapping, flushing and releasing the HistAdmin region
// and its mutex. The unlocked internal steps; the exported set-up, attach
// and detach are built from them.
#pragma once

#include <cstdint>

namespace kha {

int32_t CreateHistAdminMutex();
int32_t OpenHistAdminMutex();
int32_t CloseHistAdminMutex();
int32_t CreateHistAdminMapping(uint32_t size);
int32_t OpenHistAdminMapping();
// Also closes the journal (CloseHistAdminJournal).
int32_t CloseHistAdminMapping();
// Opens the undo journal beside the section, creating it when it does not
// exist yet, and maps it whole: 0, or the code of the failed step (-2005,
// -2007, -2008, -2010, -2012). Called by set-up and attach with the mutex
// held, after the view is mapped.
int32_t OpenHistAdminJournal();
void CloseHistAdminJournal();
int32_t MapHistAdminView();
int32_t UnmapHistAdminView();

// Flushes the whole view: 0, -2004 (no view), -2003 (no section handle;
// the view is then forgotten) or -2014.
int32_t FlushHistAdminView();

}  // namespace kha
