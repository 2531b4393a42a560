#include "app/uHistrelEnglishConstant.h"

#include "Bibliothek/Schalter/uProgramSwitchConstant.h"
#include "app/uHistrelConstants.h"

namespace {

// The option texts and the defaults of INSERT and the yes/no switches are
// the same in every language and keep their initial values.
void AssignHistrelTexts() {
  SUserDefault = "no default value";
  SUserDescription =
      "This switch serves around the user of the program to identify. In addition, the switch "
      "will be written in comments.";
  SFileDefault = "no default value";
  SFileDescription = "This switch sets the path and perhaps the file this one shall be processed.";
  SInsertDescription =
      "This switch serves to find the place in the same file where the formatted comment then "
      "is inserted.";
  SRecursiveDescription =
      "This switch turns on or off the recursive searching in the subdirectories.";
  SKeepCVSDescription = "This switch checks, whether the opening comment shall remain unchanged.";
  SKeepDateDescription =
      "This switch checks, whether the date shall remain unchanged in the evaluated comment.";
  SThreadsDescription =
      "This switch sets how many threads read the files; 0 takes one per processor core, at most "
      "8.";
  SExtensionsDescription =
      "This switch sets the extensions by which the sources of a directory named after -- are "
      "known.";
  SPathMissing = "The path must be indicated!";
  SUserMissing = "The user must be indicated!";
  SCannotAccessDirectory = "Cannot access the directory: %s";
  SCannotOpenDirectory =
      "The directory %s cannot be opened; the files in and below it were not processed!";
  SCannotEditFile = "The file %s cannot be edited!";
  SFileSwitchMissing = "The parameter FILE must be indicated!";
  STemporaryFileExists = "The temporary file %s already exists!";
  SSourceChanged = "The file %s was changed while it was being rewritten!";
  SThreadsInvalid = "The parameter THREADS must be a number from 0 to 64!";
  SBackslashNameSkipped = "The entry %s is passed over: its name holds a backslash.";
  SMarkerCannotTakeHistory =
      "The marker at %s cannot take the history: only a { } or (* *) comment can hold it!";
  SRewriteChangesCode = "The rewrite of %s would change its code, so the file was left as it is!";
  SLogLocked = "The log %s stays locked by another process, so nothing was changed!";
  SNotEnoughMemory = "There is not enough memory to process %s!";
  SNotEnoughMemoryForRun = "There is not enough memory for the run!";
  SUnexpectedFailure = "The run stopped on an unexpected failure: %s";
  SReasonMissing = "Reason: %s does not exist.";
  SReasonDirectory = "Reason: %s is a directory.";
  SReasonLink = "Reason: %s is a symbolic link, which is not followed there.";
  SReasonFifo = "Reason: %s is a FIFO.";
  SReasonNotRegular = "Reason: %s is no regular file.";
  SReasonSecondName = "Reason: %s has a second name (a hard link).";
  SReasonNotReadable = "Reason: %s may not be read.";
  SReasonNotWritable = "Reason: %s is not writable.";
  SReasonDirectoryNotWritable = "Reason: the directory of %s is not writable.";
  SReasonStickyDirectory =
      "Reason: %s belongs to another user, in a directory where only its owner may replace it.";
  SReasonLocked = "Reason: %s stayed locked by another process for 10 seconds.";
  SReasonOtherOwner = "Reason: the log %s belongs to another user.";
  SReasonReadableByOthers = "Reason: the log %s may be read by users who may not read its source.";
  SReasonDiskFull = "Reason: the disk is full; %s cannot be written.";
  SReasonFailed = "Reason: the system refused to read or write %s.";
  SReasonSystem = "Reason: %s";
  SReasonBackslash =
      "Reason: the name %s holds a backslash, which a path of this tool reads as a separator.";
  SReasonMarker =
      "Reason: a // comment ends with its line, so the history would become code; put the marker "
      "in a { } or (* *) comment.";
  SReasonCodeChange =
      "Reason: the new text would differ from the old one outside its comments (a user name "
      "holding } does that).";
  SReasonChanged = "Reason: %s changed after it was read; run again.";
  SReasonTemporaryKept =
      "Reason: %s was not left behind by a killed run of this tool, so it is kept.";
  SReasonOwnTemporary = "Reason: the file has the name of its own temporary file.";
  SReasonNotReplaced = "Reason: the temporary file %s could not take the place of the source.";
  SRunWouldRefuse = "Warning: a run would not edit the file %s.";
}

void AssignSwitchLibraryTexts() {
  SDescriptionLabel = "     Description: ";
  SFormatError = "The format of section and parameter is not validly!";
  SIniFileError = "Failure: Ini file not found!";
  SMultipleRegistration = "Multiple registries from switch %s are not possible.";
  SRegOffDescription = "This switch switches the readout from the registry in or out.";
  SIniOffDescription = "This switch switches the readout from the Ini file in or out.";
  SCmdOffDescription = "This switch switches the readout from the command line in or out.";
  SIniPathDescription = "This switch sets the path of the Ini file.";
  SRegPathDescription = "This switch sets the path of the registry.";
  SIniFileDescription = "This switch sets the name of the Ini file.";
  SWriteIniDefault = "no default value";
  SWriteIniDescription =
      "This switch activates the writing of the registered switches into the Ini file. The "
      "application terminates immediately afterwards.";
  SWriteRegDefault = "no default value";
  SWriteRegDescription =
      "This switch activates the writing of the registered switches into the registry. The "
      "application terminates immediately afterwards.";
  SShowHiddenDescription =
      "This switch shows or hides the switches, which are registered with the special register "
      "method.";
  SSwitchHelpCaption = "List of registered switches";
  SErrorBoxCaption = "Error";
}

}  // namespace

void InitializeHistrelEnglishConstantUnit() {
  AssignHistrelTexts();
  AssignSwitchLibraryTexts();
}
