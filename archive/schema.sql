-- The campaign archive: archive.sqlite in a folder of recordings (~/vst_gse
-- by default), an index of every session found in it and its subfolders.
-- It is an index only: everything in it is made again from the recordings
-- (NAME.dat), their session records (NAME.session) and their logs
-- (NAME.log) when it is missing, damaged or stale; delete it at any time.
--
-- Schema version 1 (PRAGMA user_version = 1), marked as vst_gse's own by
-- PRAGMA application_id = 1447511873 (0x56475341, "VGSA"). A station
-- refuses an archive of a newer version (and indexes without keeping one).
--
-- Times are seconds since 1970-01-01 UTC with a fraction:
--   strftime('%Y-%m-%d %H:%M:%f', started, 'unixepoch', 'localtime')
-- writes one as local time. Paths are relative to the archive's folder, so
-- a folder moved to another disk keeps its archive. docs/archive.md has
-- example queries.

-- Every session found: one recording, with what its record and log add.
CREATE TABLE sessions (
  session       INTEGER PRIMARY KEY,
  recording     TEXT    NOT NULL UNIQUE,  -- its path from the archive's folder ("day2/52121834.dat")
  size          INTEGER NOT NULL,  -- its size when indexed, bytes
  modified      REAL    NOT NULL,  -- its last change when indexed
  head_hash     TEXT    NOT NULL,  -- FNV-1a 64 of its first 4096 bytes, 16 hex digits (as its record names it)
  reachable     INTEGER NOT NULL,  -- 0 when it was not found at the last look (a disk that went away): the row stays
  record        TEXT    NOT NULL,  -- its session record, '' when none
  record_state  TEXT    NOT NULL,  -- 'used', 'none', or why it was refused
  record_stamp  TEXT    NOT NULL,  -- size and last change of the record and the log, as indexed
  times         TEXT    NOT NULL,  -- where the times come from: 'record' (as received), 'name' (the
                                   -- start its name gives, then the link's 1920 bytes/s), 'file'
                                   -- (its last change, counted back at that rate)
  started       REAL,              -- its first frame; NULL without frames
  ended         REAL,              -- its last frame
  duration_s    REAL,
  frames        INTEGER NOT NULL,  -- good frames
  failures      INTEGER NOT NULL,  -- failed frames: checksum_failures + illegal_escapes
  checksum_failures INTEGER NOT NULL,
  illegal_escapes   INTEGER NOT NULL,
  bytes_skipped INTEGER NOT NULL,  -- bytes that belong to no good frame
  longest_gap_s REAL    NOT NULL,  -- the longest time between two good frames
  port          TEXT    NOT NULL,  -- the device COM1 stood for ('' unknown: no record)
  device        TEXT    NOT NULL,  -- what identifies it (adapter, serial number)
  version       TEXT    NOT NULL,  -- the station's version that recorded it
  host          TEXT    NOT NULL,  -- the machine
  alarms        INTEGER NOT NULL,  -- alarms raised
  alarms_unacknowledged INTEGER NOT NULL,
  notes         INTEGER NOT NULL,
  commands      INTEGER NOT NULL,  -- commands sent to the instrument
  port_losses   INTEGER NOT NULL,
  live          INTEGER NOT NULL,  -- 1: still being recorded when indexed
  problem       TEXT    NOT NULL   -- '' or what could not be read
);
CREATE INDEX sessions_by_start ON sessions (started);

-- Each session's alarms as its record last had them (a row per alarm and run).
CREATE TABLE alarms (
  session         INTEGER NOT NULL,
  key             TEXT    NOT NULL,  -- 'HK16', 'link silent', 'not recording'
  what            TEXT    NOT NULL,  -- 'HK16 out of limits'
  severity        TEXT    NOT NULL,  -- 'red' or 'amber': the worst
  first           REAL    NOT NULL,
  last            REAL    NOT NULL,
  occurrences     INTEGER NOT NULL,
  worst_text      TEXT    NOT NULL,  -- '53.12 degC', or ''
  worst_limit     TEXT    NOT NULL,  -- 'above the caution limit 50.00 degC', or ''
  acknowledged    INTEGER NOT NULL,
  acknowledged_at REAL               -- NULL if never
);
CREATE INDEX alarms_by_key ON alarms (key, session);

-- What happened on the link and at the station: port lost and returned,
-- commands sent, notes (the record's events).
CREATE TABLE events (
  session INTEGER NOT NULL,
  t       REAL    NOT NULL,
  kind    TEXT    NOT NULL,  -- 'port lost', 'port returned', 'command', 'note', ...
  text    TEXT    NOT NULL
);
CREATE INDEX events_by_kind ON events (kind, session);

-- The text of every log entry and note, for the search (full-text).
CREATE VIRTUAL TABLE texts USING fts5 (
  text,
  session UNINDEXED,
  kind UNINDEXED,  -- 'log' or 'note'
  t UNINDEXED
);

-- Each value per minute of each session: the minimum, maximum and mean of
-- its finite samples in that minute, decoded from the recording by the
-- station's own decoder. value is the trends' name of it ('HK16', 'F12';
-- docs/csv.md names their units), minute counts minutes since 1970 UTC.
CREATE TABLE minutes (
  session INTEGER NOT NULL,
  value   TEXT    NOT NULL,
  minute  INTEGER NOT NULL,
  samples INTEGER NOT NULL,
  min     REAL    NOT NULL,
  max     REAL    NOT NULL,
  mean    REAL    NOT NULL,
  PRIMARY KEY (session, value, minute)
) WITHOUT ROWID;

-- Files looked at that hold no frame (so they are not read again until they
-- change).
CREATE TABLE not_recordings (
  path     TEXT    PRIMARY KEY,  -- from the archive's folder
  size     INTEGER NOT NULL,
  modified REAL    NOT NULL,
  reason   TEXT    NOT NULL
);
