unit Utils;

{CVSLOG
   ann 2024.01.15 Started the unit.
}

interface

function Clamp(Value, Lo, Hi: Integer): Integer;

implementation

function Clamp(Value, Lo, Hi: Integer): Integer;
begin
  if Value < Lo then
    Result := Lo
  else if Value > Hi then
    Result := Hi
  else
    Result := Value;
end;

end.
