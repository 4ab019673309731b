#pragma once

// Qt reports a display that cannot be reached with a page of advice ("Reinstalling the
// application may fix this problem") and then aborts. Between watchDisplayOpening() and
// displayOpened(), the span of the QApplication constructor, Qt's messages are held back;
// should the constructor fail for want of a display, the program says so in one line on
// standard error and ends with status 1. Otherwise displayOpened() passes the held messages on
// as Qt would have written them.
void watchDisplayOpening();
void displayOpened();
