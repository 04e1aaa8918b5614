#pragma once
// The settings unit: the options record and options.ini, the disc information and cdinfo.dat,
// the genre and WMA-profile tables, and the small routines several parts share.

#include "GlobalOptions.h"
#include "GlobalRoutines.h"
#include "GlobalTables.h"
