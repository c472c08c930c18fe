-- Host database of the Compra LEGAL (BA) export: PostgreSQL edition (15 and later).
--
-- The same tables, columns, keys and indexes as sqlite.sql, in PostgreSQL's own types: DATE and
-- TIMESTAMP columns hold real dates, VARCHAR/CHAR/NUMERIC are as declared there. Unquoted names
-- are folded to lower case by PostgreSQL; the statements name them in upper case all the same.
-- An empty text is NULL, as Oracle would store it (the host's Oracle dialect binds '' as NULL).
--
-- What differs from sqlite.sql, and why:
--   - No SEQCOMPRALEG table: the number generators are the sequences SEQ_NRLISTA and
--     SEQ_NRSEQARQMAG, which hand out numbers without serialising the writers on one row.
--   - TRAVACOMPRALEG, one row with ID 1, which the server's writers lock; kept on both server
--     editions so that they have the same tables.
--   - BLOCOARQCOMPRALEG has no WITHOUT ROWID (an SQLite clause); its primary key serves the paged
--     reads as an ordinary index. Its blocks of lines are compressed with LZ4 rather than the
--     default pglz, which took a third of the database's time for a file of a million lines.
--   - LISTACOMPRALEGNF leaves half of each page free (fillfactor 50): recording the flag each
--     invoice had before its file marked it then writes the new row version in the same page
--     without new index entries, half the time for a list of 250,000 invoices.
--   - The function NVL(a, b), which the Oracle statements call and PostgreSQL does not have.

-- ---------------------------------------------------------------------------------------------
-- Reference tables read by the screen and the filter dialog
-- ---------------------------------------------------------------------------------------------

-- Taxes of the invoice module. IDORGARRECADNFE: collecting authority ('F' federal, 'E' state,
-- 'M' municipal).
CREATE TABLE IMPOSTONFE (
    CDIMPOSTONFE     VARCHAR(2)  NOT NULL,
    SGIMPOSTONFE     VARCHAR(10) NOT NULL,
    IDORGARRECADNFE  CHAR(1),
    CONSTRAINT PK_IMPOSTONFE PRIMARY KEY (CDIMPOSTONFE)
);

CREATE TABLE EMPRESA (
    CDEMPRESA        VARCHAR(2)  NOT NULL,
    NMEMPRESA        VARCHAR(40) NOT NULL,
    NRCNPJEMPRESA    VARCHAR(14),            -- head office, digits only
    CONSTRAINT PK_EMPRESA PRIMARY KEY (CDEMPRESA)
);

-- Branch codes are unique across companies: the branch lookup is not scoped to a company.
-- DTPROCESSAMENTO is the branch's processing date, the host's default period end.
CREATE TABLE FILIAL (
    CDFILIAL         VARCHAR(4)  NOT NULL,
    NMFILIAL         VARCHAR(30) NOT NULL,
    CDEMPRESA        VARCHAR(2)  NOT NULL,
    DTPROCESSAMENTO  DATE        NOT NULL,
    NRCNPJFILIAL     VARCHAR(14),
    SGESTADO         CHAR(2),
    NMMUNICIPIO      VARCHAR(30),
    CONSTRAINT PK_FILIAL PRIMARY KEY (CDFILIAL),
    CONSTRAINT FK_FILIAL_EMPRESA FOREIGN KEY (CDEMPRESA) REFERENCES EMPRESA (CDEMPRESA)
);
CREATE INDEX IX_FILIAL_EMPRESA ON FILIAL (CDEMPRESA);

-- State registrations of a company, one per establishment. The establishment's data fills the
-- informant records (10 and 11) of the file made for the registration.
CREATE TABLE INSCRESTAD (
    CDEMPRESA        VARCHAR(2)  NOT NULL,
    CDINSCESTA       VARCHAR(16) NOT NULL,
    SGESTADO         CHAR(2)     NOT NULL,
    CDFILIAL         VARCHAR(4),             -- establishment, when it is a branch
    NRCNPJ           VARCHAR(14) NOT NULL,   -- establishment, digits only
    NMMUNICIPIO      VARCHAR(30) NOT NULL,
    NRFAX            VARCHAR(10),            -- digits only, area code included
    DSLOGRADOURO     VARCHAR(40) NOT NULL,
    NRLOGRADOURO     VARCHAR(5),             -- digits only; NULL for "no number"
    DSCOMPLEMENTO    VARCHAR(30),
    NMBAIRRO         VARCHAR(30),
    NRCEP            VARCHAR(8)  NOT NULL,
    NMCONTATO        VARCHAR(40),
    NRTELEFONE       VARCHAR(12),            -- digits only, area code included
    CONSTRAINT PK_INSCRESTAD PRIMARY KEY (CDEMPRESA, CDINSCESTA),
    CONSTRAINT FK_INSCRESTAD_EMPRESA FOREIGN KEY (CDEMPRESA) REFERENCES EMPRESA (CDEMPRESA)
);

CREATE TABLE INSCRMUNICIP (
    CDEMPRESA        VARCHAR(2)  NOT NULL,
    CDINSCMUNI       VARCHAR(16) NOT NULL,
    CDFILIAL         VARCHAR(4),
    NMMUNICIPIO      VARCHAR(30),
    CONSTRAINT PK_INSCRMUNICIP PRIMARY KEY (CDEMPRESA, CDINSCMUNI),
    CONSTRAINT FK_INSCRMUNICIP_EMPRESA FOREIGN KEY (CDEMPRESA) REFERENCES EMPRESA (CDEMPRESA)
);

-- Clients and suppliers: the issuers of the purchase invoices. A client is identified by
-- (IDTPIJURCLIE, NRINSJURCLIE): 'J' CNPJ of 14 digits, 'F' CPF of 11 digits, 'O' other (no
-- number). NRINSCESTCLIE is the issuer's state registration, NULL when exempt.
CREATE TABLE CLIENTE (
    CDCLIENTE        VARCHAR(21) NOT NULL,
    NMRAZSOCCLIE     VARCHAR(50) NOT NULL,
    NRINSJURCLIE     VARCHAR(20),
    IDTPIJURCLIE     CHAR(1)     NOT NULL,
    NMFANTCLIE       VARCHAR(50),
    NRINSCESTCLIE    VARCHAR(14),
    SGESTADO         CHAR(2)     NOT NULL,
    NMMUNICIPIO      VARCHAR(30),
    CONSTRAINT PK_CLIENTE PRIMARY KEY (CDCLIENTE)
);
CREATE INDEX IX_CLIENTE_INSCRICAO ON CLIENTE (NRINSJURCLIE, IDTPIJURCLIE);
CREATE INDEX IX_CLIENTE_RAZAO ON CLIENTE (NMRAZSOCCLIE);

-- Operation types. A code may exist once as an entry ('E') and once as an exit ('S') type.
-- IDUTILOPER 'S': in use; IDUTILEMISNF 'S': used when issuing invoices. NRCFOP is the fiscal
-- operation code of an operation inside the state; the interstate one starts with 2 or 6.
CREATE TABLE TIPOOPERAC (
    CDTIPOOPER       VARCHAR(2)  NOT NULL,
    IDENTRSAIDOP     CHAR(1)     NOT NULL,
    NMTIPOOPER       VARCHAR(30) NOT NULL,
    IDUTILOPER       CHAR(1)     NOT NULL,
    IDUTILEMISNF     CHAR(1)     NOT NULL,
    NRCFOP           VARCHAR(4),
    CONSTRAINT PK_TIPOOPERAC PRIMARY KEY (CDTIPOOPER, IDENTRSAIDOP)
);

-- Series of the invoices a company issues, per pair of state and municipal registration.
CREATE TABLE SERIENF (
    CDEMPRESA        VARCHAR(2)   NOT NULL,
    CDINSCESTA       VARCHAR(16)  NOT NULL,
    CDINSCMUNI       VARCHAR(16)  NOT NULL,
    CDSERIE          VARCHAR(5)   NOT NULL,
    DSSERIE          VARCHAR(20)  NOT NULL,
    CDRELMODENF      VARCHAR(100),
    CDRELESPENF      VARCHAR(100),
    CONSTRAINT PK_SERIENF PRIMARY KEY (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE)
);

-- Series of the invoices received, not tied to a company.
CREATE TABLE SERIEENTR (
    CDSERIEENTR      VARCHAR(5)  NOT NULL,
    DSSERIEENTR      VARCHAR(20) NOT NULL,
    CONSTRAINT PK_SERIEENTR PRIMARY KEY (CDSERIEENTR)
);

-- Host parameters by name, e.g. CDFILIALCORRENTE (the current branch of the demo).
CREATE TABLE PARAMGERAL (
    CDPARAMETRO      VARCHAR(30)  NOT NULL,
    VLPARAMETRO      VARCHAR(100),
    CONSTRAINT PK_PARAMGERAL PRIMARY KEY (CDPARAMETRO)
);

-- ---------------------------------------------------------------------------------------------
-- Purchase invoices, read and updated by the application server
-- ---------------------------------------------------------------------------------------------

CREATE TABLE PRODUTO (
    CDPRODUTO        VARCHAR(14)   NOT NULL,
    CDNCM            VARCHAR(8)    NOT NULL,
    DSPRODUTO        VARCHAR(60)   NOT NULL,
    SGUNIDADE        VARCHAR(6)    NOT NULL,
    PCALIQIPI        NUMERIC(5,2)  NOT NULL,
    PCALIQICMS       NUMERIC(5,2)  NOT NULL,
    PCREDBASEICMS    NUMERIC(5,2)  NOT NULL,  -- base reduction, percent
    VRBASEICMSST     NUMERIC(15,2) NOT NULL,  -- tax-substitution base per unit, 0 when none
    CONSTRAINT PK_PRODUTO PRIMARY KEY (CDPRODUTO)
);

-- One row per invoice, identified by branch and posting number. IDENTRSAIDOP and CDTIPOOPER
-- name a TIPOOPERAC row; CDSERIE is a SERIEENTR code for entries and a SERIENF code of the
-- invoice's registration pair for exits. IDNFCOMPRALEG: 'S' exported, 'N' pending.
-- IDSITUACAO: 'N' normal, 'S' cancelled. CDMODELONF: '01' paper, '55' electronic.
-- VRNOTAFISC = VRBASEICMS + VRISENTO + VROUTRAS = sum of the items' (VRPRODUTO - VRDESCONTO
-- + VRIPI).
CREATE TABLE NFCOMPRA (
    CDFILIAL         VARCHAR(4)    NOT NULL,
    NRLANCTONF       VARCHAR(10)   NOT NULL,
    CDEMPRESA        VARCHAR(2)    NOT NULL,
    IDENTRSAIDOP     CHAR(1)       NOT NULL,
    CDTIPOOPER       VARCHAR(2)    NOT NULL,
    CDSERIE          VARCHAR(5),
    NRNOTAFISC       VARCHAR(20)   NOT NULL,
    DTEMISSAO        DATE          NOT NULL,
    VRNOTAFISC       NUMERIC(15,2) NOT NULL,
    CDCLIENTE        VARCHAR(21)   NOT NULL,
    CDINSCESTA       VARCHAR(16)   NOT NULL,
    CDINSCMUNI       VARCHAR(16),
    IDNFCOMPRALEG    CHAR(1)       NOT NULL,
    NRCFOP           VARCHAR(4)    NOT NULL,
    CDMODELONF       VARCHAR(2)    NOT NULL,
    VRBASEICMS       NUMERIC(15,2) NOT NULL,
    VRICMS           NUMERIC(15,2) NOT NULL,
    VRISENTO         NUMERIC(15,2) NOT NULL,
    VROUTRAS         NUMERIC(15,2) NOT NULL,
    PCALIQICMS       NUMERIC(5,2)  NOT NULL,
    IDSITUACAO       CHAR(1)       NOT NULL,
    CONSTRAINT PK_NFCOMPRA PRIMARY KEY (CDFILIAL, NRLANCTONF),
    CONSTRAINT FK_NFCOMPRA_FILIAL FOREIGN KEY (CDFILIAL) REFERENCES FILIAL (CDFILIAL),
    CONSTRAINT FK_NFCOMPRA_CLIENTE FOREIGN KEY (CDCLIENTE) REFERENCES CLIENTE (CDCLIENTE)
);
-- The invoice selection: company and period, with or without the exported flag.
CREATE INDEX IX_NFCOMPRA_EMPRESA_DATA ON NFCOMPRA (CDEMPRESA, DTEMISSAO);
CREATE INDEX IX_NFCOMPRA_EMPRESA_STATUS ON NFCOMPRA (CDEMPRESA, IDNFCOMPRALEG, DTEMISSAO);
-- Selection by client, and the files' grouping by registration.
CREATE INDEX IX_NFCOMPRA_CLIENTE ON NFCOMPRA (CDCLIENTE, DTEMISSAO);
CREATE INDEX IX_NFCOMPRA_INSCESTA ON NFCOMPRA (CDEMPRESA, CDINSCESTA, DTEMISSAO);

CREATE TABLE NFCOMPRAITEM (
    CDFILIAL         VARCHAR(4)    NOT NULL,
    NRLANCTONF       VARCHAR(10)   NOT NULL,
    NRITEM           NUMERIC(3)    NOT NULL,
    CDPRODUTO        VARCHAR(14)   NOT NULL,
    NRCFOP           VARCHAR(4)    NOT NULL,
    CDCST            VARCHAR(3)    NOT NULL,
    QTITEM           NUMERIC(14,3) NOT NULL,
    VRPRODUTO        NUMERIC(15,2) NOT NULL,  -- quantity times unit price
    VRDESCONTO       NUMERIC(15,2) NOT NULL,  -- discount, never negative
    VRBASEICMS       NUMERIC(15,2) NOT NULL,
    VRBASEICMSST     NUMERIC(15,2) NOT NULL,
    VRIPI            NUMERIC(15,2) NOT NULL,
    PCALIQICMS       NUMERIC(5,2)  NOT NULL,
    CONSTRAINT PK_NFCOMPRAITEM PRIMARY KEY (CDFILIAL, NRLANCTONF, NRITEM),
    CONSTRAINT FK_NFCOMPRAITEM_NFCOMPRA FOREIGN KEY (CDFILIAL, NRLANCTONF)
        REFERENCES NFCOMPRA (CDFILIAL, NRLANCTONF),
    CONSTRAINT FK_NFCOMPRAITEM_PRODUTO FOREIGN KEY (CDPRODUTO) REFERENCES PRODUTO (CDPRODUTO)
);

-- ---------------------------------------------------------------------------------------------
-- Export lists and generated files, kept in the database so that several server processes can
-- serve one export run
-- ---------------------------------------------------------------------------------------------

-- Number generators: a server takes the next number with NEXT VALUE of the sequence (nextval),
-- which no two processes ever share. The first number taken is 1.
CREATE SEQUENCE SEQ_NRLISTA START WITH 1;
CREATE SEQUENCE SEQ_NRSEQARQMAG START WITH 1;

-- One row (ID 1) that a server's writer locks to take its turn among the other servers' writers.
CREATE TABLE TRAVACOMPRALEG (
    ID               INTEGER      NOT NULL,
    CONSTRAINT PK_TRAVACOMPRALEG PRIMARY KEY (ID)
);
-- One export list per list number handed out. CDSESSAO is the digest of the client session that
-- took it: only that session may go on with it or delete it. IDSITUACAO: 'A' open (files still to
-- serve), 'E' delivered (every file served; the client may still report a failed write of the
-- last one), 'F' final. DTATIVIDADE is the time of the list's last call, in milliseconds since 1970
-- UTC, and CDSERVIDOR the server process that had it: an open list idle for longer than the lease,
-- or left by a server that is gone, is undone.
CREATE TABLE LISTACOMPRALEG (
    NRLISTA          VARCHAR(10)  NOT NULL,
    DTCRIACAO        TIMESTAMP    NOT NULL,
    CDSESSAO         VARCHAR(64),
    IDSITUACAO       CHAR(1)      DEFAULT 'A' NOT NULL,
    DTATIVIDADE      NUMERIC(15),
    CDSERVIDOR       VARCHAR(32),
    CONSTRAINT PK_LISTACOMPRALEG PRIMARY KEY (NRLISTA)
);
CREATE INDEX IX_LISTACOMPRALEG_SESSAO ON LISTACOMPRALEG (CDSESSAO, IDSITUACAO);
CREATE INDEX IX_LISTACOMPRALEG_SITUACAO ON LISTACOMPRALEG (IDSITUACAO, DTATIVIDADE);

-- The marked invoices of a list that is not final. CDLISTA is the branch code followed by the
-- posting number; CDFILIAL and NRLANCTONF hold the same key split, for the joins with NFCOMPRA,
-- and their unique index keeps an invoice on one unfinished list at most.
-- IDNFCOMPRALEGANT keeps the invoice's IDNFCOMPRALEG from before the list's file marked it, so
-- that undoing the list puts back exactly what was there; NULL until then.
CREATE TABLE LISTACOMPRALEGNF (
    NRLISTA          VARCHAR(10)  NOT NULL,
    CDLISTA          VARCHAR(50)  NOT NULL,
    CDINSCESTA       VARCHAR(20),
    CDFILIAL         VARCHAR(4),
    NRLANCTONF       VARCHAR(10),
    IDNFCOMPRALEGANT CHAR(1),
    CONSTRAINT PK_LISTACOMPRALEGNF PRIMARY KEY (NRLISTA, CDLISTA),
    CONSTRAINT FK_LISTACOMPRALEGNF_LISTA FOREIGN KEY (NRLISTA)
        REFERENCES LISTACOMPRALEG (NRLISTA)
) WITH (fillfactor = 50);
CREATE UNIQUE INDEX UQ_LISTACOMPRALEGNF_NOTA ON LISTACOMPRALEGNF (CDFILIAL, NRLANCTONF);

-- The output files of a list, one per state registration. NRSEQARQMAG is the file's own number;
-- NOMEARQUIVO the name part that goes between the underscores of the file name. IDSERVIDO: 'N'
-- until the last page has been handed out, 'S' then, 'E' once the file is known to be delivered
-- (the client asked for the next file, or the list became final).
CREATE TABLE ARQCOMPRALEG (
    NRSEQARQMAG      VARCHAR(10)  NOT NULL,
    NRLISTA          VARCHAR(10)  NOT NULL,
    CDEMPRESA        VARCHAR(2),
    CDINSCESTA       VARCHAR(16)  NOT NULL,
    SGESTADO         CHAR(2),
    NOMEARQUIVO      VARCHAR(16)  NOT NULL,
    NRTOTREGISTROS   NUMERIC(10),
    IDSERVIDO        CHAR(1)      NOT NULL,
    DTGERACAO        TIMESTAMP,
    CONSTRAINT PK_ARQCOMPRALEG PRIMARY KEY (NRSEQARQMAG),
    CONSTRAINT UQ_ARQCOMPRALEG_LISTA UNIQUE (NRLISTA, CDINSCESTA),
    CONSTRAINT FK_ARQCOMPRALEG_LISTA FOREIGN KEY (NRLISTA) REFERENCES LISTACOMPRALEG (NRLISTA)
);

-- The lines of the files, a row per block of consecutive lines of one file, so that a file of a
-- million lines is some 4,000 rows and index entries instead of a million. NRORDREGARQ is the
-- number of the block's first line (the lines of a file are numbered from 1), NRLINHAS the number
-- of lines in the block, SQUENCIAL the number of its first line among the lines of the whole list
-- (the following lines count up by one), DSREGARQMAG the block's lines back to back, without line
-- ends: each line is 126 characters, so a line's place follows from its number. A block holds at
-- most 250 lines, 31,500 bytes, the same on every engine: Firebird's longest VARCHAR holds 32,765
-- bytes and its row 64 KB. A page of lines reads the blocks that overlap it, through the primary
-- key:
--   WHERE NRSEQARQMAG = ? AND NRORDREGARQ BETWEEN ? - 249 AND ? ORDER BY NRORDREGARQ;
-- The table does not keep the name of the one-row-per-line REGARQCOMPRALEG it replaces: a server
-- of the earlier kind on the same database fails at once on the missing table instead of handing
-- out blocks as lines. There is no index by list: the lines of a list are reached through the
-- list's files.
CREATE TABLE BLOCOARQCOMPRALEG (
    NRSEQARQMAG      VARCHAR(10)    NOT NULL,
    NRORDREGARQ      NUMERIC(10)    NOT NULL,
    NRLINHAS         NUMERIC(3)     NOT NULL,
    NRLISTA          VARCHAR(10)    NOT NULL,
    SQUENCIAL        NUMERIC(10)    NOT NULL,
    DSREGARQMAG      VARCHAR(31500) COMPRESSION lz4 NOT NULL,
    CONSTRAINT PK_BLOCOARQCOMPRALEG PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ),
    CONSTRAINT FK_BLOCOARQCOMPRALEG_ARQ FOREIGN KEY (NRSEQARQMAG)
        REFERENCES ARQCOMPRALEG (NRSEQARQMAG)
);

-- The server processes at work on this database, so that a starting one can tell which open
-- lists a dead one left: machine and boot, process number and start (clock ticks since boot),
-- and the last heartbeat in milliseconds since 1970 UTC.
CREATE TABLE SERVCOMPRALEG (
    CDSERVIDOR       VARCHAR(32)  NOT NULL,
    CDMAQUINA        VARCHAR(64),
    CDBOOT           VARCHAR(64),
    NRPROCESSO       NUMERIC(10),
    NRINICIOPROC     NUMERIC(20),
    DTBATIMENTO      NUMERIC(15),
    CONSTRAINT PK_SERVCOMPRALEG PRIMARY KEY (CDSERVIDOR)
);

INSERT INTO TRAVACOMPRALEG (ID) VALUES (1);

-- ---------------------------------------------------------------------------------------------
-- What the Oracle statements expect of the database
-- ---------------------------------------------------------------------------------------------

-- NVL(a, b): a when it is not null, else b, as Oracle's. The module's lookups pass an untyped
-- parameter against a VARCHAR or CHAR column (CDFILIAL = NVL(:P_CDFILIAL, CDFILIAL)); Qt's QPSQL
-- driver prepares such a statement with the parameter's type unknown, and ANYCOMPATIBLE resolves
-- it to the column's type, so the comparison stays one of that type and a null parameter gives
-- the column itself. The planner inlines the one-expression body into COALESCE. (PostgreSQL
-- takes a polymorphic SQL function only with its body as a string.)
CREATE FUNCTION NVL(A ANYCOMPATIBLE, B ANYCOMPATIBLE) RETURNS ANYCOMPATIBLE
    LANGUAGE SQL IMMUTABLE PARALLEL SAFE
    AS 'SELECT COALESCE(A, B)';
