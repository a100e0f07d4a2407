@echo off
rem Run on each new PC once KodrelSE is installed and has been started once, logged on as the
rem same user: checks the store first and migrates nothing when any file of it is damaged.
setlocal
if not defined KDR4_SHARE set KDR4_SHARE=\\server\share\kdr4
set TOOL=%~dp0kdr4tose-cli.exe
set WORK=%KDR4_SHARE%\%USERNAME%
"%TOOL%" --work-dir "%WORK%" --json verify > "%WORK%\verify.json" 2> "%WORK%\verify.err"
set RC=%ERRORLEVEL%
rem The redirection first: "echo ... %RC%>> file" reads a one-digit code as a handle.
>> "%WORK%\results.txt" echo %DATE% %TIME% %COMPUTERNAME% verify %RC%
if not "%RC%"=="0" exit /b %RC%
"%TOOL%" --work-dir "%WORK%" --json migrate > "%WORK%\migrate.json" 2> "%WORK%\migrate.err"
set RC=%ERRORLEVEL%
>> "%WORK%\results.txt" echo %DATE% %TIME% %COMPUTERNAME% migrate %RC%
exit /b %RC%
