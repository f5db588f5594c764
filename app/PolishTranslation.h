#pragma once

// Loads Qt's own Polish translation, so the standard buttons of message boxes read as on a
// Polish desktop ("Tak", "Nie"). False when the translation is not installed; the boxes then
// keep Qt's English words.
bool InstallQtPolishTranslation();
