#pragma once

/// Switches the look of every window between the modern style ("Windows XP style") and the
/// plain classic one ("Custom Windows style").
void ApplyWindowStyle(bool modern);
