#include "RecordingState.h"

int registerRecordingState()
{
    static const int id = qRegisterMetaType<RecordingState>("RecordingState");
    return id;
}
