@echo off
rem Run on each old PC as an administrator: collects every user of the PC into the users
rem folder on the share, the same folder collect.bat makes when the user runs it.
rem KDR4_SHARE names the shares folder of user folders. Extra arguments go to the tool
rem (--exclude-user NAME, --user NAME).
setlocal
if not defined KDR4_SHARE set KDR4_SHARE=\\server\share\kdr4
set TOOL=%~dp0kdr4tose-cli.exe
if not exist "%KDR4_SHARE%\" exit /b 64
"%TOOL%" --all-users --work-dir "%KDR4_SHARE%" --json %* collect > "%KDR4_SHARE%\%COMPUTERNAME%.collect.json" 2> "%KDR4_SHARE%\%COMPUTERNAME%.collect.err"
set RC=%ERRORLEVEL%
rem The redirection first: "echo ... %RC%>> file" reads a one-digit code as a handle.
>> "%KDR4_SHARE%\all-users.txt" echo %DATE% %TIME% %COMPUTERNAME% collect %RC%
exit /b %RC%
