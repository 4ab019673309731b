#pragma once

#include "ExpiryWatch.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// The expiry of the user's certificates as a calendar that desktop calendars import
// (iCalendar): for each certificate of known expiry, one all-day event on the day it becomes due
// for renewal and one on the day it expires.
namespace ExpiryCalendar {

// The calendar of the entries, made at the time stamp. Entries without a known expiry have no
// events.
QByteArray calendar(const QVector<ExpiryWatch::Entry>& entries, const QDateTime& stamp);

// Writes the calendar to the file as a whole: a new file that takes the name once it is
// complete, in place of an earlier file only when mayReplace. Throws PageError when the file
// exists (without mayReplace) or cannot be written.
void writeCalendar(const QVector<ExpiryWatch::Entry>& entries, const QString& file,
                   bool mayReplace);

} // namespace ExpiryCalendar
