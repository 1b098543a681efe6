#pragma once

#include <QList>

#include <sys/types.h>

/// The living processes below `ancestor` (its children, theirs, and so on), as /proc tells them
/// at this moment; the ended ones not yet reaped are left out.
QList<pid_t> ProcessesBelow(pid_t ancestor);
