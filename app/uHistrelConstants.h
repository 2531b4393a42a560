// The tool's texts: the three texts of each of its seven switches and its
// failure messages. Each starts with its German value; uHistrelEnglishConstant
// assigns the English ones at start-up.
#pragma once

#include <string>

extern std::string SUserOptions;
extern std::string SUserDefault;
extern std::string SUserDescription;
extern std::string SFileOptions;
extern std::string SFileDefault;
extern std::string SFileDescription;
extern std::string SInsertOptions;
extern std::string SInsertDefault;
extern std::string SInsertDescription;
extern std::string SRecursiveOptions;
extern std::string SRecursiveDefault;
extern std::string SRecursiveDescription;
extern std::string SKeepCVSOptions;
extern std::string SKeepCVSDefault;
extern std::string SKeepCVSDescription;
extern std::string SKeepDateOptions;
extern std::string SKeepDateDefault;
extern std::string SKeepDateDescription;
extern std::string SThreadsOptions;
extern std::string SThreadsDefault;
extern std::string SThreadsDescription;
extern std::string SExtensionsOptions;
extern std::string SExtensionsDefault;
extern std::string SExtensionsDescription;
// Execute: the path of FILE is empty.
extern std::string SPathMissing;
// Execute (and AddHistoryText): USER is empty.
extern std::string SUserMissing;
// The directory of FILE is no directory; %s is the path.
extern std::string SCannotAccessDirectory;
// The walk cannot open or list a directory it met (no descriptor left, at
// depth, or a read error), so it stops there; %s is the directory's path.
extern std::string SCannotOpenDirectory;
// A selected file cannot be read or replaced; %s is its path.
extern std::string SCannotEditFile;
// The program run: FILE is empty.
extern std::string SFileSwitchMissing;
// A file already has the name of a source's temporary file; %s is its path.
extern std::string STemporaryFileExists;
// A source changed (or its name came to mean another file) while it was
// rewritten, so it was left as it is; %s is its path.
extern std::string SSourceChanged;
// The program run: THREADS is not a number from 0 to 64.
extern std::string SThreadsInvalid;
// A warning: a listing entry whose name holds a backslash cannot be named in
// the tool's paths and is passed over; %s is the directory and the name.
extern std::string SBackslashNameSkipped;
// The marker of a source with notes stands where the history cannot (a "//"
// comment); %s is the path and the line, "path:line".
extern std::string SMarkerCannotTakeHistory;
// The rewrite of a source would change more than its comments, so nothing
// was written; %s is its path.
extern std::string SRewriteChangesCode;
// The log of a source stays locked by another process longer than a run
// holds it, so the lines of a killed run cannot be taken out; %s is the
// log's path.
extern std::string SLogLocked;
// The memory ran out while a source was processed; %s is its path.
extern std::string SNotEnoughMemory;
// The memory ran out outside the processing of a source (in the walk, or
// while a preview was shown).
extern std::string SNotEnoughMemoryForRun;
// A failure that the tool has no message of its own for; %s is what the
// library says.
extern std::string SUnexpectedFailure;

// The reasons of refusals, each one line on standard error after the
// refusal's message; %s is the file concerned as messages show it (its full
// shown path), where the text has one.
// the file (or its directory) is missing.
extern std::string SReasonMissing;
// it is a directory.
extern std::string SReasonDirectory;
// it is a symbolic link that is not followed (a log, or a link to no file or planted by another
// user).
extern std::string SReasonLink;
// it is a FIFO.
extern std::string SReasonFifo;
// it is a device or a socket.
extern std::string SReasonNotRegular;
// a log with a second name.
extern std::string SReasonSecondName;
// this user may not read it.
extern std::string SReasonNotReadable;
// it is read-only, or this user may not write it.
extern std::string SReasonNotWritable;
// its directory may not be written.
extern std::string SReasonDirectoryNotWritable;
// another user's file in a sticky directory.
extern std::string SReasonStickyDirectory;
// another process held its lock longer than a run waits.
extern std::string SReasonLocked;
// a log of another user than the source's or this one.
extern std::string SReasonOtherOwner;
// a log that users may read who may not read its source.
extern std::string SReasonReadableByOthers;
// no room left on the disk of the file (its full shown path).
extern std::string SReasonDiskFull;
// the system refused it for another reason.
extern std::string SReasonFailed;
// the system's own message, when a read or write of the source failed.
extern std::string SReasonSystem;
// a listed name that holds a backslash.
extern std::string SReasonBackslash;
// the marker is in a // comment.
extern std::string SReasonMarker;
// the rewrite would change code.
extern std::string SReasonCodeChange;
// the file changed after it was read.
extern std::string SReasonChanged;
// a file holds the temporary file's name.
extern std::string SReasonTemporaryKept;
// a source named like its own temporary file.
extern std::string SReasonOwnTemporary;
// the temporary file could not replace the source.
extern std::string SReasonNotReplaced;
// --diff and --check: the warning that a run would refuse a source whose
// notes and diff they show; %s is its path. Its reason follows.
extern std::string SRunWouldRefuse;

// Unit shut-down: releases the texts.
void FinalizeHistrelConstantsUnit();
