unit Billing;

{ Invoices and their totals. }

{CVSLOG}

interface

function InvoiceTotal(const Amounts: array of Currency): Currency;

implementation

function InvoiceTotal(const Amounts: array of Currency): Currency;
var
  I: Integer;
begin
  Result := 0;
  for I := Low(Amounts) to High(Amounts) do
    Result := Result + Amounts[I]; {CVS* Sum in Currency, so that cents are no longer lost on long invoices.}
  // CVS* Empty invoices now give 0 instead of raising an exception.
end;

end.
