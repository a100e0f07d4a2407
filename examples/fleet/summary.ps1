# Lists what each user's Migrate did, one row per user and edition, from the --json results
# that migrate.bat left in the users' folders.
param([string]$Share = '\\server\share\kdr4')
Get-ChildItem (Join-Path $Share '*\migrate.json') | ForEach-Object {
  $user = $_.Directory.Name
  (Get-Content -Raw -Encoding UTF8 $_ | ConvertFrom-Json).editions |
    Select-Object @{n='user'; e={$user}}, edition, outcome, reason, verified, store
} | Format-Table
