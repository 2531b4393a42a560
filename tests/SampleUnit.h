// The sample unit of the tool's worked example, before and after its first
// run by user "dev"; DATE stands for the date of the run.
#pragma once

#include <string>

namespace testsupport {

const char kSampleBefore[] = R"(unit Sample;

interface

{CVSLOG}

implementation

procedure Foo;
begin
  {CVS* Fixed the rounding of totals in the footer of the monthly report, so that cents are no longer lost.}
  Bar;
  // CVS* Removed the second parameter of Bar.
  {CVS* First line of a longer note
        that goes on in a second line
  }
end;

end.
)";

const char kSampleAfterFirstRun[] = R"(unit Sample;

interface

{CVSLOG
   dev DATE Fixed the rounding of totals in the footer of the monthly report,
                  so that cents are no longer lost.
                  Removed the second parameter of Bar.
                  First line of a longer note that goes on in a second line
}

implementation

procedure Foo;
begin
  {dev DATE Fixed the rounding of totals in the footer of the monthly report, so that cents are no longer lost.}
  Bar;
  // dev DATE Removed the second parameter of Bar.
  {dev DATE First line of a longer note
        that goes on in a second line
  }
end;

end.
)";

const char kSampleLogAfterFirstRun[] =
    R"(dev DATE Fixed the rounding of totals in the footer of the monthly report,
so that cents are no longer lost.
Removed the second parameter of Bar.
First line of a longer note that goes on in a second line
)";

// AText with every DATE replaced by ADate.
inline std::string WithDate(std::string AText, const std::string& ADate) {
  for (std::string::size_type at; (at = AText.find("DATE")) != std::string::npos;) {
    AText.replace(at, 4, ADate);
  }
  return AText;
}

}  // namespace testsupport
