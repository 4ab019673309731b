#pragma once

// The program remembers nothing between runs. Qt's own dialogs would: the file dialogs keep
// their history and last folder in the user's settings file "QtProject.conf". From this call
// on, every settings file of the user's scope is looked for below "/dev/null", where no file
// can exist or be made, so such settings are neither read nor written, and no lock or
// temporary file is made for them either. Call it once, before the application object is built.
void preventSettingsFiles();
