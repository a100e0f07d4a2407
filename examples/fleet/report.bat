@echo off
rem Run on the administrator's PC: what each user's runs left in the share, one line per PC and
rem user, on the screen and as a CSV file for a spreadsheet (the first argument, or
rem kdr4tose-report.csv in the administrator's own folder). Reads the share, writes nothing there.
setlocal
if not defined KDR4_SHARE set KDR4_SHARE=\\server\share\kdr4
rem A final backslash would escape the closing quote of "%KDR4_SHARE%".
if "%KDR4_SHARE:~-1%"=="\" set KDR4_SHARE=%KDR4_SHARE:~0,-1%
set TOOL=%~dp0kdr4tose-cli.exe
set CSV=%~1
if "%CSV%"=="" set CSV=%USERPROFILE%\kdr4tose-report.csv
"%TOOL%" --csv report "%KDR4_SHARE%" > "%CSV%"
set RC=%ERRORLEVEL%
"%TOOL%" report "%KDR4_SHARE%"
echo.
echo %CSV%
rem 0: every folder read; 1: some could not be (their lines say why); 2: no user folder found.
exit /b %RC%
